#!/usr/bin/env bash
# Builds everything and starts the current edition.
source "$(dirname "$0")/setup.sh"
exec "$top/build/service/Tarvex_Service"
