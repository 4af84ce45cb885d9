# A fleet on one machine, for tests and benchmarks of collection over ssh:
# a real sshd (Debian's openssh-server) on a loopback address inside a
# network, mount and PID namespace the caller makes, key authentication
# with a key made here, and any number of host aliases in ssh's
# configuration pointing at it. Each alias sends ORLIM_TEST_HOST=ALIAS
# (SetEnv, accepted by the sshd), so the remote command can act as that
# host. Sourced by bash scripts:
#
#   source tests/support/ssh_lab.bash
#   lab_enter "$0" "$@"        # re-runs the script inside fresh namespaces
#   lab_start_sshd             # sshd on 127.0.0.1:$lab_port
#   lab_alias web-01           # Host web-01 -> that sshd (more options may follow)
#   ssh web-01 true
#   check "web-01 answers" ssh web-01 true    # a failure said and counted
#
# Inside, /root (the home of root, where ssh and the login shell look) is
# a fresh tmpfs, so the caller's own configuration and keys are never read
# and nothing written there outlives the run. Every process started inside
# ends when the script does: the script is the first process of its PID
# namespace, and the kernel ends the rest with it; lab_stop ends sshd
# first, in order.

lab_port=2222

# The shell tests' checks (check, check_eq, finish; failures counted in
# failures, which the script's exit status reads).
source "${BASH_SOURCE[0]%/*}/check.bash"

# lab_enter SCRIPT ARG...: unless already inside, runs SCRIPT again in new
# namespaces and exits with its status.
lab_enter() {
  if [ "${ORLIM_SSH_LAB:-}" = inside ]; then
    mount --make-rprivate / || exit 125
    ip link set lo up || exit 125
    mount -t tmpfs -o mode=0700 tmpfs /root || exit 125
    # sshd's privilege separation folder; a private /run keeps it here.
    mount -t tmpfs tmpfs /run || exit 125
    mkdir -p /run/sshd
    lab=$(mktemp -d) || exit 125
    mkdir -p /root/.ssh
    return 0
  fi
  if ! command -v /usr/sbin/sshd >/dev/null || ! command -v unshare >/dev/null; then
    echo "openssh-server is not installed (tools/deps.sh test installs it): skipped"
    exit 77
  fi
  # --kill-child: if this outer process is killed, the namespace goes too.
  ORLIM_SSH_LAB=inside exec unshare --net --mount --pid --fork --kill-child --mount-proc \
    bash "$@"
}

# lab_start_sshd: keys, configuration and the sshd itself, listening on
# 127.0.0.1:$lab_port; returns when it accepts connections.
lab_start_sshd() {
  ssh-keygen -q -t ed25519 -N '' -C lab-host -f "$lab/host_key" || return 1
  ssh-keygen -q -t ed25519 -N '' -C lab-user -f /root/.ssh/id_ed25519 || return 1
  cp /root/.ssh/id_ed25519.pub "$lab/authorized_keys"
  echo "[127.0.0.1]:$lab_port $(cat "$lab/host_key.pub")" >/root/.ssh/known_hosts
  cat >"$lab/sshd_config" <<CONFIG
ListenAddress 127.0.0.1:$lab_port
HostKey $lab/host_key
PidFile $lab/sshd.pid
AuthorizedKeysFile $lab/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PrintMotd no
PrintLastLog no
AcceptEnv ORLIM_TEST_HOST
Subsystem sftp internal-sftp
# Many collections at once: the default (10:30:100) drops connections
# beyond ten that have not logged in yet.
MaxStartups 1000
LogLevel ERROR
CONFIG
  cat >/root/.ssh/config <<CONFIG
Host *
  Port $lab_port
  User root
  IdentityFile /root/.ssh/id_ed25519
  IdentitiesOnly yes
  UserKnownHostsFile /root/.ssh/known_hosts
  StrictHostKeyChecking yes
  ControlMaster no
  ControlPath none
CONFIG
  lab_alias lab-check
  /usr/sbin/sshd -D -e -f "$lab/sshd_config" 2>>"$lab/sshd.log" &
  lab_sshd=$!
  local i
  for i in $(seq 100); do
    if ssh -n -o BatchMode=yes -o ConnectTimeout=2 lab-check true 2>/dev/null; then
      return 0
    fi
    kill -0 "$lab_sshd" 2>/dev/null || break
    sleep 0.1
  done
  echo "sshd did not start:" >&2
  cat "$lab/sshd.log" >&2
  return 1
}

# lab_alias NAME [OPTION...]: a Host entry NAME for the lab's sshd, sending
# ORLIM_TEST_HOST=NAME, with further ssh_config lines ("Port 2999",
# "RequestTTY force") in place of the defaults (ssh takes the first value
# it reads). A name that is no alias is looked up as it is, and fails.
lab_alias() {
  local name=$1 option
  shift
  {
    echo "Host $name"
    echo "  SetEnv ORLIM_TEST_HOST=$name"
    for option in "$@"; do echo "  $option"; done
    echo "  HostName 127.0.0.1"
    cat /root/.ssh/config
  } >"$lab/config.new" && mv "$lab/config.new" /root/.ssh/config
}

# lab_stop: ends the sshd (the namespace's end takes whatever else is left).
lab_stop() {
  if [ -n "${lab_sshd:-}" ]; then
    kill "$lab_sshd" 2>/dev/null
    wait "$lab_sshd" 2>/dev/null
    lab_sshd=
  fi
}
