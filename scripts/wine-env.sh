# Sourced: the environment every Wine command of the project runs in.
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export WINE WINESERVER
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono/Gecko prompts, no menu entries written to the home folder.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
