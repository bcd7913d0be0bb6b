# Sourced by the native hosts' tests: points MLT at a folder of its own under
# $1 that holds the system's modules and data beside this build's module $2
# and its metadata $3 (MLT loads every module of one folder).
use_build_module() {
    local work=$1 module=$2 yml=$3
    mkdir -p "$work/mlt/modules" "$work/mlt/data/norel"
    ln -s "$(pkg-config --variable=moduledir mlt-framework-7)"/*.so "$work/mlt/modules/"
    ln -sf "$module" "$work/mlt/modules/"
    ln -s "$(pkg-config --variable=mltdatadir mlt-framework-7)"/* "$work/mlt/data/"
    ln -s "$yml" "$work/mlt/data/norel/"
    export MLT_REPOSITORY=$work/mlt/modules MLT_DATA=$work/mlt/data
}
