"""Option pricing with the KorvaneX component from Python.

``korvanex.automation`` drives any registered automation class late-bound;
``korvanex.models`` prices whole arrays of options with the same models.
"""
from korvanex import models  # noqa: E402,F401
