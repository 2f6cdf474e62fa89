// Host audio output (SDL2); filled in with the sound devices.
