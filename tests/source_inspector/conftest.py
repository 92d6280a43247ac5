import sys
from pathlib import Path

# The oracle module beside the tests.
sys.path.insert(0, str(Path(__file__).resolve().parent))
