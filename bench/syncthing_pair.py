#!/usr/bin/env python3
"""Two Syncthing instances on loopback sharing one folder, for bench/compare.sh.

  syncthing_pair.py setup PAIR     homes PAIR/a and PAIR/b, folders PAIR/a-data
                                   and PAIR/b-data shared as "bench", both
                                   devices known to each other on 127.0.0.1
                                   only (no discovery, relays or NAT), the
                                   folder watched with a 1 s delay, no
                                   lowered priority, fsync left on.
  syncthing_pair.py wait PAIR SECONDS
                                   until both instances answer and are
                                   connected to each other; exit 1 on timeout.
  syncthing_pair.py scan PAIR SIDE [SUBFOLDER]
                                   asks instance SIDE (a or b) to scan the
                                   folder now, as its watcher would.
  syncthing_pair.py serve-args PAIR SIDE
                                   prints the arguments of `syncthing serve`.
"""
import json
import os
import subprocess
import sys
import time
import urllib.request
import xml.etree.ElementTree as ET

PORTS = {"a": (8391, 22001), "b": (8392, 22002)}  # GUI, sync listen
FOLDER = "bench"


def home(pair, side):
    return os.path.join(pair, side)


def config_path(pair, side):
    return os.path.join(home(pair, side), "config.xml")


def generate(pair, side):
    out = subprocess.run(["syncthing", "generate", "--home=" + home(pair, side), "--no-default-folder",
                          "--skip-port-probing"], check=True, capture_output=True, text=True)
    tree = ET.parse(config_path(pair, side))
    device = tree.getroot().find("device")
    if device is None:
        sys.exit("syncthing generate wrote no device:\n" + out.stdout + out.stderr)
    return device.get("id")


def set_text(parent, tag, text):
    node = parent.find(tag)
    if node is None:
        node = ET.SubElement(parent, tag)
    node.text = text


def configure(pair, side, ids):
    path = config_path(pair, side)
    tree = ET.parse(path)
    root = tree.getroot()
    gui_port, listen_port = PORTS[side]
    for device in root.findall("device"):
        root.remove(device)
    for other, device_id in ids.items():
        device = ET.SubElement(root, "device", id=device_id, name=other, compression="never",
                               introducer="false", skipIntroductionRemovals="false", introducedBy="")
        set_text(device, "address", "tcp://127.0.0.1:%d" % PORTS[other][1])
        set_text(device, "autoAcceptFolders", "false")
    for folder in root.findall("folder"):
        root.remove(folder)
    data = os.path.join(pair, side + "-data")
    os.makedirs(os.path.join(data, ".stfolder"), exist_ok=True)
    folder = ET.Element("folder", id=FOLDER, label=FOLDER, path=data, type="sendreceive",
                        rescanIntervalS="3600", fsWatcherEnabled="true", fsWatcherDelayS="1",
                        ignorePerms="false", autoNormalize="true")
    for device_id in ids.values():
        ET.SubElement(folder, "device", id=device_id, introducedBy="")
    root.insert(0, folder)
    gui = root.find("gui")
    set_text(gui, "address", "127.0.0.1:%d" % gui_port)
    options = root.find("options")
    for tag, text in {
        "listenAddress": "tcp://127.0.0.1:%d" % listen_port,
        "globalAnnounceEnabled": "false",
        "localAnnounceEnabled": "false",
        "relaysEnabled": "false",
        "natEnabled": "false",
        "startBrowser": "false",
        "urAccepted": "-1",
        "autoUpgradeIntervalH": "0",
        "crashReportingEnabled": "false",
        "setLowPriority": "false",
    }.items():
        set_text(options, tag, text)
    tree.write(path)


def api(pair, side, method, route):
    root = ET.parse(config_path(pair, side)).getroot()
    key = root.find("gui").find("apikey").text
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (PORTS[side][0], route), method=method,
                                     headers={"X-API-Key": key})
    with urllib.request.urlopen(request, timeout=5) as answer:
        body = answer.read()
    return json.loads(body) if body.strip() else None


def connected(pair):
    try:
        for side in "ab":
            answer = api(pair, side, "GET", "/rest/system/connections")
            if not any(c.get("connected") for c in answer.get("connections", {}).values()):
                return False
        return True
    except OSError:
        return False


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    command, pair = argv[1], argv[2]
    if command == "setup":
        os.makedirs(pair, exist_ok=True)
        ids = {side: generate(pair, side) for side in "ab"}
        for side in "ab":
            configure(pair, side, ids)
    elif command == "wait":
        end = time.monotonic() + float(argv[3])
        while not connected(pair):
            if time.monotonic() > end:
                sys.exit("the two Syncthing instances did not connect")
            time.sleep(0.2)
    elif command == "scan":
        route = "/rest/db/scan?folder=" + FOLDER
        if len(argv) > 4:
            route += "&sub=" + urllib.request.quote(argv[4])
        api(pair, argv[3], "POST", route)
    elif command == "serve-args":
        side = argv[3]
        print("serve --home=%s --no-browser --no-restart --no-upgrade --logfile=%s" %
              (home(pair, side), os.path.join(pair, side + ".log")))
    else:
        sys.exit("unknown command " + command)


if __name__ == "__main__":
    main(sys.argv)
