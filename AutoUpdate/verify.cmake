# Checking a downloaded installer against the maker's key; the maker's signing tool.
