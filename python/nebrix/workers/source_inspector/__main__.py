"""Entry point of ``python -m nebrix.workers.source_inspector``: the worker's command loop."""

from nebrix.workers.source_inspector import main

main()
