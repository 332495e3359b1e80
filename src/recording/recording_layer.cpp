// The recording layer.
