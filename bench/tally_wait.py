"""Processor time a transmission spends while it waits for the modem.

Runs tally_transmit_native against tools/tally-service on the pty pair of
tests/with-pty-pair, the simulator answering the dial only after a long delay,
and prints the wall-clock time and the processor time of the library's
process. Usage: tally_wait.py PROGRAM SERVICE [DIAL_DELAY_SECONDS]"""
import os
import resource
import subprocess
import sys
import tempfile

program, service = sys.argv[1], sys.argv[2]
delay = sys.argv[3] if len(sys.argv) > 3 else "20"
work = tempfile.mkdtemp(prefix="tally-wait.")
card = os.path.join(work, "card.txt")
with open(card, "wb") as f:
    f.write(b"Name: Ann\r\n" * 40)
simulator = subprocess.Popen(
    [service, "--device", os.environ["MOSSLANE_SERIAL_PEER"], "--card-out", os.path.join(work, "out.txt"),
     "--dial-delay", delay, "--calls", "1"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
env = dict(os.environ, TALLYLIB_COM1=os.environ["MOSSLANE_SERIAL_PORT"])
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = os.times().elapsed
# The dial wait of the program is 60 s, longer than the delay.
result = subprocess.run([program, card], env=env, stdout=subprocess.DEVNULL).returncode
wall = os.times().elapsed - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
simulator.wait(timeout=30)
cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
print(f"transmission result {result}, dial answered after {delay} s")
print(f"wall {wall:.2f} s, processor {cpu * 1000:.0f} ms ({100 * cpu / wall:.2f} % of one core)")
