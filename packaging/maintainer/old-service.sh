# 1.0.2 was one package, beamclock, with the unit beamclock.service. Its build without
# maintainer scripts cannot stop that service when it is replaced, so the old program goes on
# running from a deleted file and holds the port; the packages that take its place end it.
old_unit=beamclock.service
old_enabled_mark=/var/lib/beamclock/beamclock.service-was-enabled

# Remembers that the old service was enabled, for whichever package can keep the clock set.
remember_old_enablement() {
  for link in /etc/systemd/system/*.wants/"$old_unit"; do
    if [ -L "$link" ]; then
      mkdir -p "${old_enabled_mark%/*}"
      : >"$old_enabled_mark"
    fi
  done
}

# Stops the old service, also when its unit file is gone, and takes away every trace of its
# enablement, deb-systemd-helper's own records included.
end_old_service() {
  remember_old_enablement
  if [ -z "${DPKG_ROOT:-}" ] && [ -d /run/systemd/system ] &&
    command -v deb-systemd-invoke >/dev/null 2>&1; then
    deb-systemd-invoke stop "$old_unit" >/dev/null 2>&1 || true
  fi
  rm -f /etc/systemd/system/*.wants/"$old_unit"
  if command -v deb-systemd-helper >/dev/null 2>&1; then
    deb-systemd-helper purge "$old_unit" >/dev/null 2>&1 || true
  fi
  if [ -z "${DPKG_ROOT:-}" ] && [ -d /run/systemd/system ]; then
    systemctl --system daemon-reload >/dev/null || true
  fi
}

old_service_was_enabled() {
  [ -e "$old_enabled_mark" ]
}

forget_old_enablement() {
  rm -f "$old_enabled_mark"
  rmdir --ignore-fail-on-non-empty "${old_enabled_mark%/*}" 2>/dev/null || true
}
