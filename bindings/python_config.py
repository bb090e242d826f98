# Prints what the build needs to know of the interpreter running it:
# "MAJOR.MINOR;INCLUDE_DIR;EXT_SUFFIX". Kept to syntax every Python parses,
# so that old interpreters fail the version test rather than this script.
import sys
import sysconfig

sys.stdout.write(
    "%d.%d;%s;%s"
    % (
        sys.version_info[0],
        sys.version_info[1],
        sysconfig.get_paths()["include"],
        sysconfig.get_config_var("EXT_SUFFIX"),
    )
)
