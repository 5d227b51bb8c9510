"""Drives the real orb as a user does, through the accessibility tree (AT-SPI) and the
X display, for the UI scenarios in the folder above. A scenario is a function of a
harness.Scenario, run by harness.run."""
