// The component layer.
