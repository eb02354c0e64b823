"""A DICOMweb server that answers badly, for the client's error tests: PORT as the argument.

/notjson/...              a search answered with an HTML page
/cut/studies/1/instances  one instance; its retrieval is a multipart body cut short inside the part
/baduid/studies/1/instances  an instance whose UID would reach into another path
"""

import http.server
import json
import sys

CUT_BOUNDARY = "cut-boundary"


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, content_type, body):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if self.path.startswith("/notjson/"):
            self.answer("application/dicom+json", b"<html><body>Please log in</body></html>")
        elif self.path == "/cut/studies/1/instances":
            listing = [{"0020000E": {"vr": "UI", "Value": ["2"]}, "00080018": {"vr": "UI", "Value": ["3"]}}]
            self.answer("application/dicom+json", json.dumps(listing).encode())
        elif self.path == "/baduid/studies/1/instances":
            listing = [{"0020000E": {"vr": "UI", "Value": ["2"]}, "00080018": {"vr": "UI", "Value": ["3/../../x?y"]}}]
            self.answer("application/dicom+json", json.dumps(listing).encode())
        elif self.path == "/cut/studies/1/series/2/instances/3":
            part = (f"--{CUT_BOUNDARY}\r\nContent-Type: application/dicom\r\nContent-Length: 1000\r\n\r\n"
                    .encode() + b"\0" * 128 + b"DICM")
            self.answer(f'multipart/related; type="application/dicom"; boundary={CUT_BOUNDARY}', part)
        else:
            self.send_error(404)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
