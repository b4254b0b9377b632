# Sourced by the project's scripts. A root shell or a CI job has no XDG_RUNTIME_DIR, and every
# Qt process then warns at start; give them a private folder instead (the program itself
# picks the same one when started without the scripts).
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  _rt="/tmp/norvix-runtime-$(id -u)"
  mkdir -p -m 0700 "$_rt" 2>/dev/null || true
  if [ -d "$_rt" ] && [ -O "$_rt" ] && [ ! -L "$_rt" ] && [ "$(stat -c %a "$_rt")" = 700 ]; then
    export XDG_RUNTIME_DIR="$_rt"
  fi
  unset _rt
fi
