"""``python -m vorlan``: the vorlan command."""
import sys

from vorlan.cli import main

sys.exit(main())
