"""``python -m vorlan.cli``: the vorlan command."""
import sys

from vorlan.cli.app import main

sys.exit(main())
