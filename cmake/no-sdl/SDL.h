// Stands first on the game library's include path: the game draws, plays and waits through the
// platform headers, and only platform/ may include SDL.
#error "SDL is not for game code: include the platform/ headers instead"
