# Listens on 127.0.0.1:PORT and fills its accept queue without ever accepting, so a new
# connection's handshake is never answered: a connect that stalls, as behind a dead proxy.
# Writes its process id to READY_FILE once in place.
import os
import socket
import sys
import time

port, ready_file = int(sys.argv[1]), sys.argv[2]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(0)
fillers = []
for _ in range(4):
    filler = socket.socket()
    filler.setblocking(False)
    try:
        filler.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    fillers.append(filler)
with open(ready_file, "w") as ready:
    ready.write(str(os.getpid()))
time.sleep(3600)
