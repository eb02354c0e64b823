#!/usr/bin/python3
"""The DICOMweb loading benchmark (see run.sh): FOLDER CLI."""

import concurrent.futures
import io
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import pydicom
import requests

USER, PASSWORD = "bench", "bench-pw"
PLUGIN = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so"
ACCEPT = 'multipart/related; type="application/dicom"; transfer-syntax=*'
RUNS = int(os.environ.get("RUNS", "5"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_orthanc(work):
    port = free_port()
    storage = os.path.join(work, "storage")
    config = {"Name": "bench", "StorageDirectory": storage, "IndexDirectory": storage, "HttpPort": port,
              "DicomServerEnabled": False, "RemoteAccessAllowed": False, "AuthenticationEnabled": True,
              "RegisteredUsers": {USER: PASSWORD}, "Plugins": [PLUGIN],
              "DicomWeb": {"Enable": True, "Root": "/dicom-web/"}, "SaveJobs": False}
    path = os.path.join(work, "orthanc.json")
    with open(path, "w") as f:
        json.dump(config, f)
    log = open(os.path.join(work, "orthanc.log"), "w")
    server = subprocess.Popen(["/usr/sbin/Orthanc", path], stdout=log, stderr=subprocess.STDOUT)
    base = f"http://127.0.0.1:{port}"
    for _ in range(600):
        try:
            if requests.get(base + "/system", auth=(USER, PASSWORD), timeout=1).ok:
                return server, base
        except requests.ConnectionError:
            pass
        time.sleep(0.05)
    server.kill()
    sys.exit("Orthanc did not start")


def upload(base, folder):
    files = sorted(os.path.join(folder, n) for n in os.listdir(folder))

    def one(path):
        with open(path, "rb") as f:
            requests.post(base + "/instances", data=f.read(), auth=(USER, PASSWORD)).raise_for_status()

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        list(pool.map(one, files))
    return len(files)


def python_client(urls):
    """requests + pydicom, eight threads with a session each, every instance's pixels decoded."""
    def one(url):
        answer = session().get(url, headers={"Accept": ACCEPT}, auth=(USER, PASSWORD))
        answer.raise_for_status()
        boundary = answer.headers["Content-Type"].split("boundary=")[1].split(";")[0].strip('"')
        part = answer.content.split(b"--" + boundary.encode())[1]
        body = part[part.index(b"\r\n\r\n") + 4:-2]
        return pydicom.dcmread(io.BytesIO(body)).pixel_array.sum()

    sessions = {}

    def session():
        import threading
        key = threading.get_ident()
        if key not in sessions:
            sessions[key] = requests.Session()
        return sessions[key]

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        list(pool.map(one, urls))


def main():
    folder, cli = sys.argv[1:3]
    work = tempfile.mkdtemp(prefix="tarvicon-dicomweb-bench-")
    server, base = start_orthanc(work)
    try:
        t0 = time.perf_counter()
        count = upload(base, folder)
        print(f"uploaded {count} files in {time.perf_counter() - t0:.1f} s")
        studies = requests.get(base + "/dicom-web/studies", auth=(USER, PASSWORD)).json()
        study = studies[0]["0020000D"]["Value"][0]
        instances = requests.get(f"{base}/dicom-web/studies/{study}/instances", auth=(USER, PASSWORD)).json()
        urls = [f"{base}/dicom-web/studies/{study}/series/{i['0020000E']['Value'][0]}/instances/"
                f"{i['00080018']['Value'][0]}" for i in instances]
        print(f"{len(urls)} instances")
        address = f"dicomweb:{base}/dicom-web/studies/{study}"
        env = dict(os.environ, TARVICON_DICOMWEB_USER=USER, TARVICON_DICOMWEB_PASSWORD=PASSWORD)

        def ours():
            subprocess.run([cli, "tree", address], env=env, check=True, stdout=subprocess.DEVNULL)

        curl_config = os.path.join(work, "curl.cfg")
        with open(curl_config, "w") as f:
            for url in urls:
                f.write(f'url = "{url}"\noutput = "/dev/null"\n')

        def curl():
            subprocess.run(["curl", "--no-progress-meter", "-f", "-Z", "--parallel-max", "8", "-u", f"{USER}:{PASSWORD}",
                            "-H", f"Accept: {ACCEPT}", "-K", curl_config], check=True)

        def curl_with_listing():
            """As a client must: the instances listed first (QIDO-RS), then fetched."""
            listing = subprocess.run(["curl", "-s", "-f", "-u", f"{USER}:{PASSWORD}",
                                      f"{base}/dicom-web/studies/{study}/instances"],
                                     check=True, capture_output=True).stdout
            listed = os.path.join(work, "curl-listed.cfg")
            with open(listed, "w") as f:
                for i in json.loads(listing):
                    f.write(f'url = "{base}/dicom-web/studies/{study}/series/{i["0020000E"]["Value"][0]}'
                            f'/instances/{i["00080018"]["Value"][0]}"\noutput = "/dev/null"\n')
            subprocess.run(["curl", "--no-progress-meter", "-f", "-Z", "--parallel-max", "8", "-u", f"{USER}:{PASSWORD}",
                            "-H", f"Accept: {ACCEPT}", "-K", listed], check=True)

        series = {i["0020000E"]["Value"][0] for i in instances}

        def curl_series():
            """The series in one answer each, as tarvicon-cli retrieves them."""
            subprocess.run(["curl", "--no-progress-meter", "-f", "-u", f"{USER}:{PASSWORD}", "-H", f"Accept: {ACCEPT}"]
                           + [arg for uid in sorted(series) for arg in
                              (f"{base}/dicom-web/studies/{study}/series/{uid}", "-o", "/dev/null")], check=True)

        def local():
            subprocess.run([cli, "tree", folder], check=True, stdout=subprocess.DEVNULL)

        ours()  # the server's own caches warm
        # Rounds of one run each, so that the machine's drift meets every contestant alike.
        contestants = {"tarvicon-cli tree (DICOMweb)": ours, "curl, 8 parallel connections": curl,
                       "curl, listing + 8 parallel connections": curl_with_listing,
                       "curl, each series in one answer": curl_series,
                       "tarvicon-cli tree (local folder)": local}
        if os.environ.get("PYTHON_CLIENT", "1") != "0":  # PYTHON_CLIENT=0: a quicker run without it
            contestants["Python requests + pydicom, 8 threads"] = lambda: python_client(urls)
        times = {label: [] for label in contestants}
        for _ in range(RUNS):
            for label, action in contestants.items():
                t0 = time.perf_counter()
                action()
                times[label].append((time.perf_counter() - t0) * 1000)
        results = {label: statistics.median(values) for label, values in times.items()}
        for label, ms in results.items():
            runs = " ".join(f"{v:.0f}" for v in times[label])
            print(f"{label:40s} median {ms:8.1f} ms   ({runs})")
        mine = results["tarvicon-cli tree (DICOMweb)"]
        print(f"ours / curl   = {mine / results['curl, 8 parallel connections']:.2f}  (goal <= 1.5)")
        print(f"ours / (curl with its listing) = {mine / results['curl, listing + 8 parallel connections']:.2f}")
        print(f"ours / (curl, each series in one answer) = {mine / results['curl, each series in one answer']:.2f}")
        print(f"ours / ours from the local folder = {mine / results['tarvicon-cli tree (local folder)']:.2f}")
        python = results.get("Python requests + pydicom, 8 threads")
        if python:
            print(f"ours / Python = {mine / python:.2f}  (goal < 1)")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


main()
