"""Source-inspection worker: analyses Python files and answers JSON commands line by line."""
