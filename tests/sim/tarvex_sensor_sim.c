/*
 * Simulated three-axis vibration sensor: a Modbus RTU slave on a serial line
 * (normally one end of a pty pair), built on libmodbus so that the framing on
 * the program's side is checked against a stack we did not write.
 *
 * Commands arrive on stdin, one per line, and are answered on stdout with
 * "ACK <line>" or "NAK <line> <reason>" once they are in effect. Every frame
 * seen on the line is logged on stdout as
 *   REQ <msec> <slave> <fn> <addr> <count> <action> [written values...]
 * See usage() and the command table below for the details.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <modbus.h>

enum {
    CONFIG_FIRST = 0,
    CONFIG_LAST = 12,
    STATE_FIRST = 13,
    FLOAT_FIRST = 15,
    MAX_FAULTS = 64,
    MAX_LINE = 1024,
    UNLIMITED = -1,
    ANY = -1
};

typedef enum {
    KIND_NORMAL,
    KIND_EXCEPTION,
    KIND_SILENT,
    KIND_DELAY,
    KIND_BADCRC,
    KIND_COUNTDELTA
} fault_kind;

typedef struct {
    fault_kind kind;
    int function; /* ANY matches every function */
    int address;  /* ANY matches every start address */
    int param;    /* exception code, delay in ms or register delta */
    int remaining;
} fault;

/* A reply that is due later; while one is pending the line is not read, as a
 * busy device would not look at the next frame either. */
typedef struct {
    int active;
    int64_t due_ms;
    fault_kind kind;
    int param;
    uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    int req_len;
} pending_reply;

static volatile sig_atomic_t g_stop = 0;

static modbus_t *g_ctx = NULL;
static modbus_mapping_t *g_map = NULL;
static int g_line_up = 0;
static int g_state_last = 0;
static int g_slave = 1;
static int g_frozen = 0;
static int g_silent_all = 0;
static int g_delay_all_ms = 0;
static fault g_faults[MAX_FAULTS];
static int g_fault_count = 0;
static pending_reply g_pending;
static struct timespec g_start;

static void on_signal(int sig)
{
    (void)sig;
    g_stop = 1;
}

static int64_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)(t.tv_sec - g_start.tv_sec) * 1000 + (t.tv_nsec - g_start.tv_nsec) / 1000000;
}

static void out(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    /* The fixture waits on these lines: they must not sit in a pipe buffer. */
    fflush(stdout);
}

static int state_last_for_version(long v)
{
    if (v >= 1 && v <= 11)
        return 28;
    if (v >= 12 && v <= 14)
        return 46;
    if (v >= 10013 && v <= 10014)
        return 52;
    return 46;
}

static uint16_t crc16(const uint8_t *p, int n)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
    }
    return crc;
}

static float get_float(int addr)
{
    uint32_t bits = ((uint32_t)g_map->tab_registers[addr] << 16) | g_map->tab_registers[addr + 1];
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

static void put_float(int addr, float f)
{
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    g_map->tab_registers[addr] = (uint16_t)(bits >> 16);
    g_map->tab_registers[addr + 1] = (uint16_t)(bits & 0xFFFF);
}

static void init_registers(long version)
{
    static const uint16_t config[CONFIG_LAST + 1] = {
        0,      /* 0 */
        0,      /* 1: firmware version, set below */
        7,      /* 2 */
        100,    /* 3 */
        3,      /* 4 */
        0xFFFE, /* 5: -2 as int16 */
        10,     /* 6 */
        1,      /* 7 */
        50,     /* 8 */
        0,      /* 9: measurement mode 0..3 */
        2,      /* 10 */
        20,     /* 11 */
        5       /* 12 */
    };
    memcpy(g_map->tab_registers, config, sizeof config);
    g_map->tab_registers[1] = (uint16_t)version;
    g_map->tab_registers[13] = 0;
    g_map->tab_registers[14] = 0;
    for (int a = FLOAT_FIRST, j = 0; a + 1 <= g_state_last; a += 2, ++j)
        put_float(a, (float)(j + 1) * 1.5f);
}

/* One measurement cycle: counters count up, every float moves by a quarter. */
static void advance_state(void)
{
    if (g_frozen)
        return;
    g_map->tab_registers[13] = (uint16_t)(g_map->tab_registers[13] + 1);
    g_map->tab_registers[14] = (uint16_t)(g_map->tab_registers[14] + 3);
    for (int a = FLOAT_FIRST; a + 1 <= g_state_last; a += 2)
        put_float(a, get_float(a) + 0.25f);
}

static int req_function(const uint8_t *req) { return req[1]; }
static int req_address(const uint8_t *req) { return (req[2] << 8) | req[3]; }
static int req_count(const uint8_t *req)
{
    switch (req[1]) {
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
        return 1;
    default:
        return (req[4] << 8) | req[5];
    }
}

static int reads_registers(int fn)
{
    return fn == MODBUS_FC_READ_HOLDING_REGISTERS || fn == MODBUS_FC_READ_INPUT_REGISTERS;
}

static int write_range(const uint8_t *req, int *first, int *count)
{
    switch (req[1]) {
    case MODBUS_FC_WRITE_SINGLE_REGISTER:
        *first = req_address(req);
        *count = 1;
        return 1;
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS:
        *first = req_address(req);
        *count = req_count(req);
        return 1;
    case MODBUS_FC_WRITE_AND_READ_REGISTERS:
        *first = (req[6] << 8) | req[7];
        *count = (req[8] << 8) | req[9];
        return 1;
    default:
        return 0;
    }
}

static void write_frame(uint8_t *frame, int len, int corrupt_crc)
{
    uint16_t crc = crc16(frame, len);
    if (corrupt_crc)
        crc ^= 0x5AA5;
    frame[len++] = (uint8_t)(crc & 0xFF);
    frame[len++] = (uint8_t)(crc >> 8);
    int fd = modbus_get_socket(g_ctx);
    for (int done = 0; done < len;) {
        ssize_t n = write(fd, frame + done, (size_t)(len - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        done += (int)n;
    }
}

static void send_exception(const uint8_t *req, int code)
{
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    frame[0] = req[0];
    frame[1] = (uint8_t)(req_function(req) | 0x80);
    frame[2] = (uint8_t)code;
    write_frame(frame, 3, 0);
}

/* The reply the device would give, built by hand so that it can be bent:
 * a corrupted CRC, or a register count that does not match the request. */
static void send_handmade(const uint8_t *req, int req_len, int corrupt_crc, int delta)
{
    uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
    int fn = req_function(req);
    int addr = req_address(req);
    int count = req_count(req);
    int len = 0;
    frame[len++] = req[0];
    frame[len++] = (uint8_t)fn;
    if (fn == MODBUS_FC_READ_HOLDING_REGISTERS) {
        if (count < 1 || count > MODBUS_MAX_READ_REGISTERS || addr + count - 1 > g_state_last) {
            send_exception(req, count < 1 || count > MODBUS_MAX_READ_REGISTERS
                                    ? MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE
                                    : MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            return;
        }
        if (addr + count - 1 >= FLOAT_FIRST)
            advance_state();
        int n = count + delta;
        if (n < 0)
            n = 0;
        if (n > 127)
            n = 127;
        frame[len++] = (uint8_t)(n * 2);
        for (int i = 0; i < n; ++i) {
            int a = addr + i;
            uint16_t v = a <= g_state_last ? g_map->tab_registers[a] : 0;
            frame[len++] = (uint8_t)(v >> 8);
            frame[len++] = (uint8_t)(v & 0xFF);
        }
    } else if (fn == MODBUS_FC_WRITE_SINGLE_REGISTER || fn == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        if (addr + count - 1 > CONFIG_LAST) {
            send_exception(req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            return;
        }
        if (fn == MODBUS_FC_WRITE_SINGLE_REGISTER) {
            g_map->tab_registers[addr] = (uint16_t)((req[4] << 8) | req[5]);
            memcpy(frame + len, req + 2, 4);
        } else {
            for (int i = 0; i < count; ++i)
                g_map->tab_registers[addr + i] = (uint16_t)((req[7 + 2 * i] << 8) | req[8 + 2 * i]);
            int echoed = count + delta;
            if (echoed < 0)
                echoed = 0;
            frame[len] = req[2];
            frame[len + 1] = req[3];
            frame[len + 2] = (uint8_t)((echoed >> 8) & 0xFF);
            frame[len + 3] = (uint8_t)(echoed & 0xFF);
        }
        len += 4;
    } else {
        /* Nothing to bend for other functions: answer as usual. */
        modbus_reply(g_ctx, req, req_len, g_map);
        return;
    }
    write_frame(frame, len, corrupt_crc);
}

static void perform(fault_kind kind, int param, const uint8_t *req, int req_len)
{
    int fn = req_function(req);
    switch (kind) {
    case KIND_SILENT:
        return;
    case KIND_EXCEPTION:
        send_exception(req, param);
        return;
    case KIND_BADCRC:
        send_handmade(req, req_len, 1, 0);
        return;
    case KIND_COUNTDELTA:
        send_handmade(req, req_len, 0, param);
        return;
    case KIND_NORMAL:
    case KIND_DELAY:
        break;
    }
    int first, count;
    if (write_range(req, &first, &count) && count >= 1 && first + count - 1 > CONFIG_LAST) {
        send_exception(req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        return;
    }
    if (reads_registers(fn) || fn == MODBUS_FC_WRITE_AND_READ_REGISTERS) {
        int a = req_address(req);
        int n = req_count(req);
        if (n >= 1 && a + n - 1 <= g_state_last && a + n - 1 >= FLOAT_FIRST)
            advance_state();
    }
    modbus_reply(g_ctx, req, req_len, g_map);
}

static const fault *match_fault(int fn, int addr)
{
    for (int i = 0; i < g_fault_count; ++i) {
        const fault *f = &g_faults[i];
        if ((f->function == ANY || f->function == fn) && (f->address == ANY || f->address == addr))
            return f;
    }
    return NULL;
}

static void consume_fault(const fault *f)
{
    int i = (int)(f - g_faults);
    if (g_faults[i].remaining == UNLIMITED || --g_faults[i].remaining > 0)
        return;
    memmove(&g_faults[i], &g_faults[i + 1], sizeof(fault) * (size_t)(g_fault_count - i - 1));
    --g_fault_count;
}

static const char *action_name(fault_kind kind)
{
    switch (kind) {
    case KIND_NORMAL: return "ok";
    case KIND_EXCEPTION: return "exception";
    case KIND_SILENT: return "silent";
    case KIND_DELAY: return "delayed";
    case KIND_BADCRC: return "badcrc";
    case KIND_COUNTDELTA: return "countdelta";
    }
    return "?";
}

static void journal(const uint8_t *req, const char *action)
{
    char line[MAX_LINE * 4];
    int fn = req_function(req);
    int n = snprintf(line, sizeof line, "REQ %lld %d %d %d %d %s", (long long)now_ms(), req[0], fn,
                     req_address(req), req_count(req), action);
    if (fn == MODBUS_FC_WRITE_SINGLE_REGISTER) {
        n += snprintf(line + n, sizeof line - (size_t)n, " %d", (req[4] << 8) | req[5]);
    } else if (fn == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
        int count = req_count(req);
        int bytes = req[6];
        for (int i = 0; i < count && 2 * i + 1 < bytes && n < (int)sizeof line - 8; ++i)
            n += snprintf(line + n, sizeof line - (size_t)n, " %d", (req[7 + 2 * i] << 8) | req[8 + 2 * i]);
    }
    out("%s\n", line);
}

static void line_lost(int err)
{
    out("LOST %s\n", strerror(err));
    modbus_close(g_ctx);
    g_line_up = 0;
    g_pending.active = 0;
}

static void serve_request(void)
{
    uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    memset(req, 0, sizeof req);
    int rc = modbus_receive(g_ctx, req);
    if (rc < 0) {
        int err = errno;
        if (err == EIO || err == ECONNRESET || err == EBADF || err == ENXIO || err == EPIPE) {
            line_lost(err);
            return;
        }
        /* A frame we could not take apart says something about the master. */
        out("BADFRAME %lld %s\n", (long long)now_ms(), modbus_strerror(err));
        modbus_flush(g_ctx);
        return;
    }
    /* rc == 0: addressed to another slave. Broadcasts are not acted on either. */
    if (rc == 0 || req[0] != g_slave) {
        journal(req, "ignored");
        return;
    }
    int fn = req_function(req);
    fault_kind kind = KIND_NORMAL;
    int param = 0;
    int delay = g_delay_all_ms;
    if (g_silent_all) {
        kind = KIND_SILENT;
    } else {
        const fault *f = match_fault(fn, req_address(req));
        if (f) {
            kind = f->kind;
            param = f->param;
            if (kind == KIND_DELAY)
                delay = param;
            consume_fault(f);
        }
    }
    journal(req, action_name(kind == KIND_NORMAL && delay > 0 ? KIND_DELAY : kind));
    if (kind == KIND_SILENT)
        return;
    if (delay > 0) {
        g_pending.active = 1;
        g_pending.due_ms = now_ms() + delay;
        g_pending.kind = kind;
        g_pending.param = param;
        memcpy(g_pending.req, req, sizeof req);
        g_pending.req_len = rc;
        return;
    }
    perform(kind, param, req, rc);
}

/* ---- commands ---------------------------------------------------------- */

static int parse_long(const char *s, long lo, long hi, long *v)
{
    if (!s || !*s)
        return 0;
    char *end;
    errno = 0;
    long x = strtol(s, &end, 0);
    if (errno || *end || x < lo || x > hi)
        return 0;
    *v = x;
    return 1;
}

static int parse_selector(const char *s, long hi, int *v)
{
    long x;
    if (s && (strcmp(s, "*") == 0 || strcmp(s, "any") == 0)) {
        *v = ANY;
        return 1;
    }
    if (!parse_long(s, 0, hi, &x))
        return 0;
    *v = (int)x;
    return 1;
}

static int parse_on_off(const char *s, int *v)
{
    if (s && strcmp(s, "on") == 0) {
        *v = 1;
        return 1;
    }
    if (s && strcmp(s, "off") == 0) {
        *v = 0;
        return 1;
    }
    return 0;
}

/* Returns NULL on success, else the reason for the NAK. */
static const char *add_fault(fault_kind kind, char **arg, int nargs, int has_param, long plo, long phi)
{
    fault f;
    long v;
    int need = 2 + (has_param ? 1 : 0);
    if (nargs < need || nargs > need + 1)
        return "usage";
    f.kind = kind;
    if (!parse_selector(arg[0], 255, &f.function))
        return "bad function";
    if (!parse_selector(arg[1], 65535, &f.address))
        return "bad address";
    f.param = 0;
    if (has_param) {
        if (!parse_long(arg[2], plo, phi, &v))
            return "bad value";
        f.param = (int)v;
    }
    f.remaining = UNLIMITED;
    if (nargs == need + 1) {
        if (!parse_long(arg[need], -1, INT_MAX, &v) || v == 0)
            return "bad count";
        f.remaining = (int)v;
    }
    if (g_fault_count == MAX_FAULTS)
        return "too many faults";
    g_faults[g_fault_count++] = f;
    return NULL;
}

static const char *run_command(char *line)
{
    char *tok[8];
    int n = 0;
    for (char *save = NULL, *t = strtok_r(line, " \t", &save); t; t = strtok_r(NULL, " \t", &save)) {
        if (n == 8)
            return "too many words";
        tok[n++] = t;
    }
    if (n == 0)
        return "empty";
    const char *cmd = tok[0];
    char **arg = tok + 1;
    int nargs = n - 1;
    long v;

    if (strcmp(cmd, "exception") == 0)
        return add_fault(KIND_EXCEPTION, arg, nargs, 1, 1, 255);
    if (strcmp(cmd, "silent") == 0) {
        if (nargs == 2 && strcmp(arg[0], "all") == 0) {
            int on;
            if (!parse_on_off(arg[1], &on))
                return "usage";
            g_silent_all = on;
            return NULL;
        }
        return add_fault(KIND_SILENT, arg, nargs, 0, 0, 0);
    }
    if (strcmp(cmd, "delay") == 0) {
        if (nargs == 2 && strcmp(arg[0], "all") == 0) {
            if (!parse_long(arg[1], 0, 600000, &v))
                return "bad value";
            g_delay_all_ms = (int)v;
            return NULL;
        }
        return add_fault(KIND_DELAY, arg, nargs, 1, 1, 600000);
    }
    if (strcmp(cmd, "badcrc") == 0)
        return add_fault(KIND_BADCRC, arg, nargs, 0, 0, 0);
    if (strcmp(cmd, "countdelta") == 0)
        return add_fault(KIND_COUNTDELTA, arg, nargs, 1, -125, 125);
    if (strcmp(cmd, "set") == 0) {
        long addr;
        if (nargs != 2)
            return "usage";
        if (!parse_long(arg[0], 0, g_state_last, &addr))
            return "bad address";
        if (!parse_long(arg[1], -32768, 65535, &v))
            return "bad value";
        g_map->tab_registers[addr] = (uint16_t)(v & 0xFFFF);
        return NULL;
    }
    if (strcmp(cmd, "setfloat") == 0) {
        long addr;
        if (nargs != 2)
            return "usage";
        if (!parse_long(arg[0], 0, g_state_last - 1, &addr))
            return "bad address";
        char *end;
        errno = 0;
        float f = strtof(arg[1], &end);
        if (errno || *end || end == arg[1])
            return "bad value";
        put_float((int)addr, f);
        return NULL;
    }
    if (strcmp(cmd, "freeze") == 0) {
        if (nargs != 1 || !parse_on_off(arg[0], &g_frozen))
            return "usage";
        return NULL;
    }
    if (strcmp(cmd, "clear") == 0) {
        if (nargs != 0)
            return "usage";
        g_fault_count = 0;
        g_silent_all = 0;
        g_delay_all_ms = 0;
        return NULL;
    }
    return "unknown command";
}

static void handle_line(char *line)
{
    size_t len = strlen(line);
    while (len && (line[len - 1] == '\r' || line[len - 1] == ' ' || line[len - 1] == '\t'))
        line[--len] = '\0';
    char *start = line;
    while (*start == ' ' || *start == '\t')
        ++start;
    if (!*start)
        return;
    char echo[MAX_LINE];
    snprintf(echo, sizeof echo, "%s", start);
    const char *why = run_command(start);
    if (why)
        out("NAK %s %s\n", echo, why);
    else
        out("ACK %s\n", echo);
}

/* Returns 0 once stdin is closed. */
static int serve_stdin(void)
{
    static char buf[MAX_LINE];
    static size_t used = 0;
    ssize_t n = read(STDIN_FILENO, buf + used, sizeof buf - 1 - used);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN;
    if (n == 0)
        return 0;
    used += (size_t)n;
    buf[used] = '\0';
    char *p = buf;
    for (char *nl; (nl = strchr(p, '\n')) != NULL; p = nl + 1) {
        *nl = '\0';
        handle_line(p);
    }
    used = (size_t)(buf + used - p);
    memmove(buf, p, used);
    if (used == sizeof buf - 1) {
        buf[used] = '\0';
        out("NAK %s line too long\n", buf);
        used = 0;
    }
    return 1;
}

/* ---- main -------------------------------------------------------------- */

static void usage(void)
{
    fprintf(stderr,
            "usage: tarvex_sensor_sim --port PATH [--slave N] [--version V] [--baud B]\n"
            "                         [--parity N|E|O] [--data 7|8] [--stop 1|2]\n"
            "commands on stdin:\n"
            "  exception FN ADDR CODE [COUNT]   silent FN ADDR [COUNT]   silent all on|off\n"
            "  delay FN ADDR MS [COUNT]         delay all MS\n"
            "  badcrc FN ADDR [COUNT]           countdelta FN ADDR DELTA [COUNT]\n"
            "  set ADDR VALUE   setfloat ADDR FLOAT   freeze on|off   clear\n"
            "  FN and ADDR may be '*' to match any.\n");
}

int main(int argc, char **argv)
{
    const char *port = NULL;
    long slave = 1, version = 14, baud = 115200, data = 8, stop = 1;
    char parity = 'N';

    for (int i = 1; i < argc; ++i) {
        const char *opt = argv[i];
        const char *val = i + 1 < argc ? argv[i + 1] : NULL;
        int ok = val != NULL;
        if (strcmp(opt, "--port") == 0)
            port = val;
        else if (strcmp(opt, "--slave") == 0)
            ok = ok && parse_long(val, 1, 247, &slave);
        else if (strcmp(opt, "--version") == 0)
            ok = ok && parse_long(val, 0, 65535, &version);
        else if (strcmp(opt, "--baud") == 0)
            ok = ok && parse_long(val, 50, 4000000, &baud);
        else if (strcmp(opt, "--parity") == 0)
            ok = ok && strlen(val) == 1 && strchr("NEO", val[0]) && (parity = val[0]);
        else if (strcmp(opt, "--data") == 0)
            ok = ok && parse_long(val, 5, 8, &data);
        else if (strcmp(opt, "--stop") == 0)
            ok = ok && parse_long(val, 1, 2, &stop);
        else
            ok = 0;
        if (!ok) {
            fprintf(stderr, "tarvex_sensor_sim: bad option %s %s\n", opt, val ? val : "");
            usage();
            return 2;
        }
        ++i;
    }
    if (!port) {
        usage();
        return 2;
    }

    clock_gettime(CLOCK_MONOTONIC, &g_start);
    g_slave = (int)slave;
    g_state_last = state_last_for_version(version);

    g_ctx = modbus_new_rtu(port, (int)baud, parity, (int)data, (int)stop);
    if (!g_ctx) {
        fprintf(stderr, "tarvex_sensor_sim: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_slave(g_ctx, g_slave);
    /* Only called once poll() saw data, so this just bounds a stray wake-up. */
    modbus_set_indication_timeout(g_ctx, 0, 200000);
    g_map = modbus_mapping_new(0, 0, g_state_last + 1, 0);
    if (!g_map) {
        fprintf(stderr, "tarvex_sensor_sim: %s\n", modbus_strerror(errno));
        return 1;
    }
    init_registers(version);
    if (modbus_connect(g_ctx) < 0) {
        fprintf(stderr, "tarvex_sensor_sim: cannot open %s: %s\n", port, modbus_strerror(errno));
        return 1;
    }
    /* A pty keeps what was written while nobody listened: start clean. */
    tcflush(modbus_get_socket(g_ctx), TCIOFLUSH);
    g_line_up = 1;

    sigset_t block, normal;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &normal);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    signal(SIGPIPE, SIG_DFL);

    out("READY\n");

    while (!g_stop) {
        struct pollfd pfd[2];
        int nfds = 0;
        pfd[nfds].fd = STDIN_FILENO;
        pfd[nfds].events = POLLIN;
        ++nfds;
        int line_index = -1;
        if (g_line_up && !g_pending.active) {
            line_index = nfds;
            pfd[nfds].fd = modbus_get_socket(g_ctx);
            pfd[nfds].events = POLLIN;
            ++nfds;
        }
        struct timespec ts, *tsp = NULL;
        if (g_pending.active) {
            int64_t left = g_pending.due_ms - now_ms();
            if (left < 0)
                left = 0;
            ts.tv_sec = (time_t)(left / 1000);
            ts.tv_nsec = (long)(left % 1000) * 1000000L;
            tsp = &ts;
        }
        int rc = ppoll(pfd, (nfds_t)nfds, tsp, &normal);
        if (rc < 0 && errno != EINTR)
            break;
        if (g_stop)
            break;
        if (g_pending.active && now_ms() >= g_pending.due_ms) {
            g_pending.active = 0;
            perform(g_pending.kind, g_pending.param, g_pending.req, g_pending.req_len);
        }
        if (rc <= 0)
            continue;
        if (pfd[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!serve_stdin())
                break;
        }
        if (line_index >= 0 && pfd[line_index].revents) {
            /* A hang-up stays signalled: give up the line rather than spin on it. */
            if (pfd[line_index].revents & POLLNVAL)
                line_lost(EBADF);
            else if (pfd[line_index].revents & (POLLHUP | POLLERR) && !(pfd[line_index].revents & POLLIN))
                line_lost(EIO);
            else
                serve_request();
        }
    }

    if (g_line_up)
        modbus_close(g_ctx);
    modbus_mapping_free(g_map);
    modbus_free(g_ctx);
    return 0;
}
