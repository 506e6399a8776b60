module talvex.dev/updater

go 1.19
