// Placeholder: the desktop shell layer.
