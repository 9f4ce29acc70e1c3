#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Writes the recorded trees beside this script: the files the activity
# reader opens, in the kernel's layouts, with the values of README.md.
import os, shutil

HERE = os.path.dirname(os.path.abspath(__file__))
MANAGER = "sys/fs/cgroup/user.slice/user-1000.slice/user@1000.service"


def put(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


def cpu_stat(usec):
    return f"usage_usec {usec}\nuser_usec {usec * 3 // 4}\nsystem_usec {usec - usec * 3 // 4}\nnr_periods 0\nnr_throttled 0\nthrottled_usec 0\n"


def proc_stat(busy_ticks):
    # user nice system idle iowait irq softirq steal guest guest_nice
    user, nice, system = busy_ticks * 7 // 10, 0, busy_ticks - busy_ticks * 7 // 10 - 300
    return f"cpu  {user} {nice} {system} 9000000 2000 100 200 0 0 0\ncpu0 0 0 0 0 0 0 0 0 0 0\nintr 0\n"


def process(root, pid, comm, ticks, start, uid=1000):
    put(root, f"proc/{pid}/stat",
        f"{pid} ({comm}) S 1 {pid} {pid} 0 -1 4194304 500 0 0 0 {ticks * 4 // 5} {ticks - ticks * 4 // 5} 0 0 20 0 1 0 {start} 10485760 800 18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 2 0 0 0 0 0 0 0 0 0 0 0 0 0\n")
    put(root, f"proc/{pid}/status", f"Name:\t{comm.splitlines()[0]}\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t{pid}\nPid:\t{pid}\nPPid:\t1\nUid:\t{uid}\t{uid}\t{uid}\t{uid}\nGid:\t{uid}\t{uid}\t{uid}\t{uid}\n")


def devices(root, brightness, dpms, net_bytes, gpu=None):
    put(root, "sys/class/backlight/intel_backlight/type", "raw\n")
    put(root, "sys/class/backlight/intel_backlight/max_brightness", "19200\n")
    put(root, "sys/class/backlight/intel_backlight/brightness", f"{brightness}\n")
    put(root, "sys/class/backlight/intel_backlight/bl_power", "0\n")
    put(root, "sys/class/drm/card1-eDP-1/dpms", f"{dpms}\n")
    put(root, "sys/class/drm/card1-eDP-1/enabled", "enabled\n")
    put(root, "sys/class/drm/card1-eDP-1/status", "connected\n")
    if gpu is not None:
        put(root, "sys/class/drm/card1/device/gpu_busy_percent", f"{gpu}\n")
    put(root, "sys/class/net/lo/statistics/rx_bytes", "99999999\n")
    put(root, "sys/class/net/lo/statistics/tx_bytes", "99999999\n")
    put(root, "sys/class/net/wlp1s0/statistics/rx_bytes", f"{net_bytes * 3 // 4}\n")
    put(root, "sys/class/net/wlp1s0/statistics/tx_bytes", f"{net_bytes - net_bytes * 3 // 4}\n")


# Whose tree it is: the reader takes the user from /proc/self.
SELF_STATUS = ("Name:\tdrainwatch\nUmask:\t0022\nState:\tR (running)\nTgid:\t4242\nPid:\t4242\nPPid:\t1\n"
               "Uid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\n")


def v2(root, self_unit):
    put(root, "sys/fs/cgroup/cgroup.controllers", "cpuset cpu io memory hugetlb pids rdma misc\n")
    put(root, "proc/self/cgroup", f"0::/user.slice/user-1000.slice/user@1000.service/{self_unit}\n")
    put(root, "proc/self/status", SELF_STATUS)


def units(root, usages):
    for path, usec in usages.items():
        put(root, f"{MANAGER}/{path}/cpu.stat", usec if isinstance(usec, str) else cpu_stat(usec))


DESKTOP = {
    "org.mozilla.firefox": "[Desktop Entry]\nName=Firefox\nName[de]=Firefox-Browser\nIcon=org.mozilla.firefox\nExec=firefox %u\n",
    "org.gnome.Nautilus": "[Desktop Entry]\nName=Files\nIcon=org.gnome.Nautilus\n[Desktop Action new-window]\nName=New Window\n",
    "org.example.Evil": "[Desktop Entry]\nName=Evil\\nName <b>markup</b>\nIcon=evil\n",
    "org.kde.konsole": "[Desktop Entry]\nName=Konsole\nIcon=utilities-terminal\n",
    "org.kde.dolphin": "[Desktop Entry]\nName=Dolphin\nIcon=system-file-manager\n",
}


def desktop_files(root, ids):
    for desktop_id in ids:
        put(root, f"share/applications/{desktop_id}.desktop", DESKTOP[desktop_id])


def gnome(root, after):
    v2(root, "app.slice/app-org.gnome.Terminal.slice/vte-spawn-1a2b.scope")
    put(root, "proc/stat", proc_stat(130800 + (60000 if after else 0)))
    put(root, "sys/fs/cgroup/system.slice/cpu.stat", cpu_stat(400_000_000 + (30_000_000 if after else 0)))
    put(root, "sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope/cpu.stat", cpu_stat(8_000_000 + (1_000_000 if after else 0)))
    base = {
        "app.slice/app-flatpak-org.mozilla.firefox-5678.scope": 300_000_000,
        "app.slice/app-gnome-org.gnome.Nautilus-1234.scope": 20_000_000,
        "app.slice/app-gnome-org.gnome.Nautilus-4321.scope": 5_000_000,
        "app.slice/app-gnome-org.example.Evil-99.scope": 1_000_000,
        "app.slice/app-flatpak-com.spotify.Client-300.scope": 80_000_000,
        "app.slice/app-org.gnome.Terminal.slice": 50_000_000,
        "app.slice/app-org.gnome.Terminal.slice/vte-spawn-1a2b.scope": 40_000_000,
        "app.slice/dbus-:1.2-org.gnome.Shell.CalendarServer@0.service": 2_000_000,
        "session.slice": 200_000_000,
        "session.slice/org.gnome.Shell@wayland.service": 190_000_000,
        "init.scope": 1_000_000,
        "background.slice": 3_000_000,
    }
    if not after:
        base["app.slice/app-gnome-org.gnome.gedit-77.scope"] = 10_000_000
    else:
        base.update({
            "app.slice/app-flatpak-org.mozilla.firefox-5678.scope": 420_000_000,
            "app.slice/app-gnome-org.gnome.Nautilus-1234.scope": 30_000_000,
            "app.slice/app-gnome-org.gnome.Nautilus-4321.scope": 7_000_000,
            "app.slice/app-gnome-org.example.Evil-99.scope": 2_000_000,
            "app.slice/app-flatpak-com.spotify.Client-300.scope": 1_000_000,
            "app.slice/app-gnome-org.gnome.Calculator-900.scope": 3_000_000,
            "app.slice/app-org.gnome.Terminal.slice": "usage_usec 5x0000\n",
            "app.slice/dbus-:1.2-org.gnome.Shell.CalendarServer@0.service": 3_000_000,
            "session.slice": 240_000_000,
            "session.slice/org.gnome.Shell@wayland.service": 228_000_000,
            "background.slice": 5_000_000,
        })
    units(root, base)
    desktop_files(root, ["org.mozilla.firefox", "org.gnome.Nautilus", "org.example.Evil"])
    devices(root, 9600, "Off" if after else "On", 3000 + (9000 if after else 0))


def kde(root, after):
    v2(root, "app.slice/app-org.kde.konsole@0a1b.service")
    put(root, "proc/stat", proc_stat(50000 + (20000 if after else 0)))
    put(root, "sys/fs/cgroup/system.slice/cpu.stat", cpu_stat(90_000_000 + (10_000_000 if after else 0)))
    base = {
        "app.slice/app-org.kde.konsole@0a1b.service": 12_000_000 + (6_000_000 if after else 0),
        "app.slice/app-org.kde.konsole@9f3e.service": 4_000_000 + (2_000_000 if after else 0),
        "app.slice/app-org.kde.dolphin@77aa.service": 9_000_000 + (1_500_000 if after else 0),
        "session.slice/plasma-plasmashell.service": 150_000_000,
        "session.slice": 160_000_000 + (40_000_000 if after else 0),
    }
    units(root, base)
    desktop_files(root, ["org.kde.konsole", "org.kde.dolphin"])
    devices(root, 19200 if after else 4800, "On", 100 + (1000 if after else 0), gpu=40 if after else 20)


def processes(root, after):
    process(root, 1, "systemd", 5000, 1, uid=0)
    process(root, 1001, "sway", 26500 if after else 25000, 100)
    process(root, 1002, "foot", 1600 if after else 1500, 200)
    process(root, 1003, "firefox", 14500 if after else 12000, 300)
    process(root, 1008, "bad\n<b>name</b>", 100, 350)
    if not after:
        process(root, 1004, "Web (Content) x", 4000, 310)
        process(root, 1005, "vim", 100, 400)
    else:
        process(root, 1005, "make", 300, 9000)
        process(root, 1007, "grim", 50, 9500)


def sway(root, after):
    v2(root, "app.slice/app-sway-foot-1002.scope")
    put(root, "proc/stat", proc_stat(80000 + (10000 if after else 0)))
    put(root, "sys/fs/cgroup/system.slice/cpu.stat", cpu_stat(60_000_000 + (5_000_000 if after else 0)))
    put(root, "sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope/cpu.stat",
        cpu_stat(560_000_000 if after else 500_000_000))
    units(root, {"init.scope": 2_500_000 if after else 2_000_000})
    os.makedirs(os.path.join(root, MANAGER, "app.slice"), exist_ok=True)
    processes(root, after)
    devices(root, 19200, "On", 5000 + (500 if after else 0))


def cgroup_v1(root, after):
    put(root, "proc/self/cgroup", "12:cpu,cpuacct:/user/1000.user/2.session\n1:name=systemd:/user/1000.user/2.session\n")
    put(root, "proc/self/status", SELF_STATUS)
    put(root, "sys/fs/cgroup/cpu,cpuacct/cpuacct.usage", "123456789\n")
    put(root, "proc/stat", proc_stat(80000 + (10000 if after else 0)))
    processes(root, after)
    devices(root, 4800, "On", 700)


for name, make in {"gnome": gnome, "kde": kde, "sway": sway, "cgroup-v1": cgroup_v1}.items():
    for side in ("before", "after"):
        root = os.path.join(HERE, name, side)
        shutil.rmtree(root, ignore_errors=True)
        make(root, side == "after")
