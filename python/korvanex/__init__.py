"""Option pricing with the KorvaneX component from Python.

``korvanex.automation`` drives any registered automation class late-bound;
``korvanex.models`` prices whole arrays of options with the same models;
``python3 -m korvanex register`` registers the component module the package carries.
"""
from korvanex._version import __version__  # noqa: F401
from korvanex import models  # noqa: E402,F401
