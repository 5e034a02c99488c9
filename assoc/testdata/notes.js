// A script item under a name that is no install script.
function main(fileName) { return 1; }
