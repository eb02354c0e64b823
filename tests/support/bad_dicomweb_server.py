"""A DICOMweb server that answers badly, for the client's error tests: PORT as the argument.

/notjson/...              a search answered with an HTML page
/cut/studies/1            one series of one instance; its retrieval (the series or the instance) is
                          a multipart body cut short inside the part
/baduid/studies/1         a series and an instance whose UIDs would reach into another path
/paged/studies/1          a series without its instance count; 40 instances listed page by page
/unpaged/studies/1        the same, every page answered with all 40
/two/studies/1/series/2   a series answered with two files, "first" and "second"
"""

import http.server
import json
import sys
import urllib.parse

CUT_BOUNDARY = "cut-boundary"


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, content_type, body):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def listing(self, uids):
        listing = [{"0020000E": {"vr": "UI", "Value": [series]}, "00080018": {"vr": "UI", "Value": [uid]}}
                   for series, uid in uids]
        self.answer("application/dicom+json", json.dumps(listing).encode())

    def cut_part(self):
        part = (f"--{CUT_BOUNDARY}\r\nContent-Type: application/dicom\r\nContent-Length: 1000\r\n\r\n"
                .encode() + b"\0" * 128 + b"DICM")
        self.answer(f'multipart/related; type="application/dicom"; boundary={CUT_BOUNDARY}', part)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        path, query = url.path, urllib.parse.parse_qs(url.query)
        paged = [("2", f"3.{i}") for i in range(40)]
        if path.startswith("/notjson/"):
            self.answer("application/dicom+json", b"<html><body>Please log in</body></html>")
        elif path == "/cut/studies/1/series":
            series = [{"0020000E": {"vr": "UI", "Value": ["2"]}, "00201209": {"vr": "IS", "Value": [1]}}]
            self.answer("application/dicom+json", json.dumps(series).encode())
        elif path == "/cut/studies/1/instances":
            self.listing([("2", "3")])
        elif path == "/baduid/studies/1/series":
            series = [{"0020000E": {"vr": "UI", "Value": ["2/../x"]}, "00201209": {"vr": "IS", "Value": [1]}}]
            self.answer("application/dicom+json", json.dumps(series).encode())
        elif path == "/baduid/studies/1/instances":
            self.listing([("2", "3/../../x?y")])
        elif path in ("/cut/studies/1/series/2/instances/3", "/cut/studies/1/series/2"):
            self.cut_part()
        elif path == "/two/studies/1/series/2":
            body = "".join(f"--{CUT_BOUNDARY}\r\nContent-Type: application/dicom\r\n\r\n{text}\r\n"
                           for text in ("first", "second")) + f"--{CUT_BOUNDARY}--\r\n"
            self.answer(f'multipart/related; type="application/dicom"; boundary={CUT_BOUNDARY}', body.encode())
        elif path in ("/paged/studies/1/series", "/unpaged/studies/1/series"):
            self.answer("application/dicom+json", json.dumps([{"0020000E": {"vr": "UI", "Value": ["2"]}}]).encode())
        elif path == "/paged/studies/1/instances":
            offset, limit = int(query["offset"][0]), int(query["limit"][0])
            self.listing(paged[offset:offset + limit])
        elif path == "/unpaged/studies/1/instances":
            self.listing(paged)
        else:
            self.send_error(404)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
