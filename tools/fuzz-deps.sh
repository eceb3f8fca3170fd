#!/bin/sh
# Installs what the libFuzzer targets need besides the usual build: clang and
# its runtime libraries (libFuzzer, the sanitizers).
exec sh "$(dirname "$0")/deps.sh" clang libclang-rt-14-dev
