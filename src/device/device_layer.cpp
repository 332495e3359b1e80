// The device layer.
