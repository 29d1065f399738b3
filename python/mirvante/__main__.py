"""python3 -m mirvante [OPTIONS] FILE...: the command line, in this process."""

import sys

from . import _mirvante


def main(argv=None):
    args = list(sys.argv[1:] if argv is None else argv)
    sys.stdout.flush()
    sys.stderr.flush()
    return _mirvante.command_line(["mirvante", *args])


if __name__ == "__main__":
    sys.exit(main())
