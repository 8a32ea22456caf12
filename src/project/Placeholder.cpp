// Project model.
