"""Run the Python module's tests with pytest; exit 77 (skipped) when pytest
or numpy is not installed for this interpreter."""
import sys

try:
    import numpy  # noqa: F401
    import pytest
except ImportError as e:
    print(f"{e}: the Python module's tests are skipped")
    sys.exit(77)

# Guarded: the worker processes of a test (a Dask cluster) start by
# importing this script again, and must not run the suite themselves.
if __name__ == "__main__":
    sys.exit(pytest.main([sys.argv[1], "-q", "-p", "no:cacheprovider", *sys.argv[2:]]))
