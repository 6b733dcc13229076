"""`python -m orv` runs the orv command."""

import sys

from .cli import main

sys.exit(main())
