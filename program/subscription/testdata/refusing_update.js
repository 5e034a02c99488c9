// A subscription update whose main() fails.
function main(path, id) {
    throw new Error("this update refuses " + id);
}
