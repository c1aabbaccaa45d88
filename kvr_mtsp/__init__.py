"""Python package around the `_kvr_core` MTSP solver extension."""
