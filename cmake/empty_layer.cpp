// Keeps a library target valid while its folder holds no source yet.
