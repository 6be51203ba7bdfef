"""python -m daz convert SRC... --out DIR: see daz.batch."""

from .batch import main

raise SystemExit(main())
