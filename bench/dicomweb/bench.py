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
RUNS = 3


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


def timed(action):
    times = []
    for _ in range(RUNS):
        t0 = time.perf_counter()
        action()
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times)


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
            subprocess.run(["curl", "-s", "-S", "-f", "-Z", "--parallel-max", "8", "-u", f"{USER}:{PASSWORD}",
                            "-H", f"Accept: {ACCEPT}", "-K", curl_config], check=True)

        def local():
            subprocess.run([cli, "tree", folder], check=True, stdout=subprocess.DEVNULL)

        ours()  # the server's own caches warm
        results = {"tarvicon-cli tree (DICOMweb)": timed(ours), "curl, 8 parallel connections": timed(curl),
                   "Python requests + pydicom, 8 threads": timed(lambda: python_client(urls)),
                   "tarvicon-cli tree (local folder)": timed(local)}
        for label, ms in results.items():
            print(f"{label:40s} median {ms:8.1f} ms")
        mine = results["tarvicon-cli tree (DICOMweb)"]
        print(f"ours / curl   = {mine / results['curl, 8 parallel connections']:.2f}  (goal <= 1.5)")
        print(f"ours / Python = {mine / results['Python requests + pydicom, 8 threads']:.2f}  (goal < 1)")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


main()
