"""Simulated wall clocks for end-to-end tests of marindo."""
