// Placeholder: the main window.
