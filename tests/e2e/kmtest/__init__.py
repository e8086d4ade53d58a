"""Support library of the end-to-end tests: a Wine prefix and an Xvfb display shared by the
whole test run (env), game folders and launcher processes (launcher), a content server the
test controls (server), and the X display seen as a player sees it (screen)."""
