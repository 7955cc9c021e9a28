// Anchors the precompiled test headers; it has no code of its own.
