#!/bin/sh
# Starts an installed MPTool (or, called as mptool-util, its maintenance tool) with the
# station's program folder, which the operator group can write: the settings file, the
# result logs and the flash images live there, not beside the programs under /usr.
export MPTOOL_HOME="${MPTOOL_HOME:-/var/lib/mptool}"
case "$(basename "$0")" in
  mptool-util) exec /usr/lib/mptool/mptool-util "$@" ;;
  *) exec /usr/lib/mptool/MPTool "$@" ;;
esac
