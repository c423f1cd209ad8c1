# Sourced by the scripts that build or run against an environment.
#
# venv is the environment of VEXLOR_VENV (default .venv), and venv_suffix
# the part that names the folders made for it: empty for .venv, "-NAME" for
# another environment, NAME being its folder name less a leading ".venv-"
# (.venv-3.13 gives -3.13, so its tests build into build/test-3.13).
venv=${VEXLOR_VENV:-.venv}
venv_suffix=""
if [ "$(realpath -m "$venv")" != "$(realpath -m .venv)" ]; then
  venv_suffix=$(basename "$venv")
  venv_suffix=${venv_suffix#.venv-}
  venv_suffix=-${venv_suffix#.}
fi

# Drops the CMake cache of build folder $1 when it was configured for another
# interpreter than $2 (an environment remade for another Python version):
# CMake would keep the old interpreter's headers.
forget_other_interpreter() {
  grep -qsx "_Python_EXECUTABLE:INTERNAL=$(realpath "$2")" "$1/CMakeCache.txt" || rm -f "$1/CMakeCache.txt"
}
