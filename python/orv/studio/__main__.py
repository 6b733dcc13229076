"""`python -m orv.studio` runs its command (see the package's docstring)."""

import sys

from . import main

sys.exit(main())
