// Package engine.
