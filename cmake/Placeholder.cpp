// Keeps a view library linkable while its folder has no sources of its own.
