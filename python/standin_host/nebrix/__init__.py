"""Stand-in for the host's ``nebrix`` package.

Installed (as the distribution nebrix-standin-host) only into this project's own venvs,
so the modules can be built, tested and demonstrated without the host; the host's own
package takes its place.
"""
