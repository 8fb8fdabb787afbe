#!/usr/bin/env bash
# Runs the demo application against a local update server.
echo "The demo application is not built yet: it arrives with the user-interface and demo work."
echo "Run ./scripts/test.sh for the test suite."
