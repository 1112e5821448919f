# Sourced by the tests' shell scripts: private_home DIR points HOME and the XDG base directories into
# DIR, so that nothing the script starts (a window manager, the program) reads or writes the files
# of the user running the tests. The test programs make homes of their own (private_home.cpp).
private_home() {
  HOME="$1/home"
  XDG_DATA_HOME="$HOME/.local/share"
  XDG_CONFIG_HOME="$HOME/.config"
  XDG_CACHE_HOME="$HOME/.cache"
  XDG_STATE_HOME="$HOME/.local/state"
  export HOME XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_STATE_HOME
  mkdir -p "$HOME"
}
