"""Entry point of `python -m kvr_mtsp`."""
from kvr_mtsp.cli import main

raise SystemExit(main())
