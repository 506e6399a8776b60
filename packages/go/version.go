package updater

// Version is the version of talvex-updater this module belongs to; the build checks it against
// the project's.
const Version = "0.1.0"
