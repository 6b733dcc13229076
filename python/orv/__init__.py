"""The orv toolkit: level files, a narrated player and a replay viewer for the orv engine."""


def __getattr__(name: str) -> str:
    # The version is read from the package's metadata when asked for, so that commands do not pay
    # for reading the metadata on every start.
    if name == "__version__":
        from importlib.metadata import PackageNotFoundError, version

        try:
            return version("orv")
        except PackageNotFoundError:  # run from a source tree that was never installed
            return "0+unknown"
    raise AttributeError(f"module 'orv' has no attribute {name!r}")
