"""nginx on loopback for the tests and benchmarks: a configuration of its own in a scratch
folder (pid, logs and temporary files there too), so it runs beside anything else and needs
no system set-up. `server` is the body of its one server block. The tests run it as it is
by default (one worker, nginx's defaults); the benchmarks ask for it tuned (FAST)."""
import os
import subprocess

CONF = """
{user}
worker_processes {workers};
daemon off;
pid {tmp}/nginx.pid;
error_log {tmp}/error.log;
events {{ worker_connections {connections}; }}
http {{
  {tuning}
  {log_format}
  access_log {tmp}/access.log{log_name};
  client_body_temp_path {tmp}/body;
  proxy_temp_path {tmp}/proxy;
  fastcgi_temp_path {tmp}/fastcgi;
  uwsgi_temp_path {tmp}/uwsgi;
  scgi_temp_path {tmp}/scgi;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{port};
    {server}
  }}
}}
"""

# The request, its status and the body bytes nginx sent: what the patch tests count.
COUNTED = "'$request_uri $status $body_bytes_sent'"
# When each request ended, how long it took (seconds), its status, body bytes and path.
TIMED = "'$msec $request_time $status $body_bytes_sent $uri'"

# How the benchmarks run it: a worker per CPU and sendfile, as an operator would.
FAST = {"workers": "auto", "connections": 1024, "tuning": "sendfile on; tcp_nopush on;"}


def start(tmp, port, server, log_format=None, workers="1", connections=64, tuning=""):
    """An nginx process serving `server` on 127.0.0.1:port; its log is tmp/access.log, in the
    combined format or in log_format."""
    conf = os.path.join(tmp, "nginx.conf")
    with open(conf, "w") as f:
        f.write(CONF.format(tmp=tmp, port=port, server=server,
                            log_format="log_format chosen %s;" % log_format if log_format else "",
                            log_name=" chosen" if log_format else "",
                            user="user root;" if os.geteuid() == 0 else "",
                            workers=workers, connections=connections, tuning=tuning))
    return subprocess.Popen(["nginx", "-c", conf, "-p", tmp], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
