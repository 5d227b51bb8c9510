# Applies the controller's udev rule as it now stands to the controllers plugged in, so
# that none needs plugging in again. Without a running udev (a container, a chroot, an
# image being built) there is nothing to tell: the rule applies when udev starts.
orb_udev_apply() {
  [ -S /run/udev/control ] || return 0
  command -v udevadm >/dev/null 2>&1 || return 0
  udevadm control --reload || return 0
  for node in /sys/class/hidraw/hidraw*; do
    [ -e "$node/device" ] || continue
    # The hid device above the node: BUS:VENDOR:PRODUCT.INSTANCE.
    case $(basename "$(readlink -f "$node/device")") in
      000[35]:056D:000[67].* | 000[35]:05E7:000[67].*)
        udevadm trigger --action=change "$node" || true ;;
    esac
  done
}
