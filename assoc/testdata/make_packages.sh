#!/usr/bin/env bash
# Makes the package and application files of the installers' tests with the package authoring
# tool of a host build:  make_packages.sh <host build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
capauthor=$(realpath "$1")/tools/capauthor/capauthor
cd "$here"
# Install scripts: JScript, VBScript, both (the JScript one wins), one that throws.
"$capauthor" js.cap --script install.js=install_js.js --file readme.txt=readme.txt --file root.inf=root.inf
"$capauthor" vbs.cap --script install.vbs=install.vbs --file readme.txt=readme.txt --file root.inf=root.inf
"$capauthor" both.cap --script install.vbs=install.vbs --script install.js=install_js.js \
    --file readme.txt=readme.txt --file root.inf=root.inf
"$capauthor" throwing.cap --script install.js=throwing.js --file readme.txt=readme.txt
# No install script: every file item is copied; the header names the icon.
"$capauthor" plain.cap --title "Plain package" --icon icon.img --script notes.js=notes.js \
    --file readme.txt=readme.txt --file data.bin=data.bin --file icon.img=icon.img
# Neither an install script nor a file.
"$capauthor" empty.cap --script notes.js=notes.js
# Device applications: one the test devices run, one that needs a newer system.
"$capauthor" game.app --file root.inf=game_root.inf --file root.ico=icon.img --file game.bin=data.bin
"$capauthor" future.app --file root.inf=future_root.inf --file game.bin=data.bin
