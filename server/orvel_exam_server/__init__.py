"""The school's exam server for the ORVEL Selvaro CBT launcher."""

__version__ = "1.0.0"
