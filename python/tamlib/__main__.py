"""python3 -m tamlib: see tamlib.cli."""

import sys

from .cli import main

sys.exit(main())
