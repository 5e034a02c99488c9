#!/usr/bin/env bash
# Makes the subscription packages of the tests with the package authoring tool of a host build:
#   make_packages.sh <host build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
capauthor=$(realpath "$1")/tools/capauthor/capauthor
cd "$here"
"$capauthor" update.csu --title "Test subscription" --script update.js=update.js
"$capauthor" refusing.csu --script update.js=refusing_update.js
# The right script under another kind (a file item) and another name: neither counts.
"$capauthor" noscript.csu --file update.js=update.js --script install.js=update.js --file readme.txt=readme.txt
