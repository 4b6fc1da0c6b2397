#!/usr/bin/env bash
# Starts or stops the smtp-sink servers that the mail tests deliver to:
#   SmtpSink.sh start DIR    one server per behaviour, each on a free loopback
#                            port; DIR/ports lists "name port" lines and
#                            DIR/dump/ receives every accepted mail
#   SmtpSink.sh stop DIR     ends the servers started in DIR
# SMTP_SINK names the program (default /usr/sbin/smtp-sink).
set -euo pipefail
action=$1
dir=$2
sink=${SMTP_SINK:-/usr/sbin/smtp-sink}

# name and smtp-sink options: -f rejects a command with 5xx, -r with 4xx,
# -q hangs up without a reply, -Q answers 421 and hangs up.
instances=(
  "accept|"
  "reject-helo|-f HELO"
  "reject-mail|-f MAIL"
  "reject-rcpt|-r RCPT"
  "reject-data|-f DATA"
  "reject-dot|-f ."
  "reject-quit|-r QUIT"
  "hangup-data|-q DATA"
  "closing-mail|-Q MAIL"
)

stop_all() {
  if [ -f "$dir/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$dir/pids"
    rm -f "$dir/pids"
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Whether something accepts connections on the loopback port.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

case $action in
stop)
  stop_all
  ;;
start)
  stop_all
  rm -rf "$dir"
  mkdir -p "$dir/dump"
  # As root smtp-sink drops to nobody, who must be able to write the dumps.
  chmod 777 "$dir" "$dir/dump"
  user=()
  [ "$(id -u)" -ne 0 ] || user=(-u nobody)
  : >"$dir/ports.new"
  for entry in "${instances[@]}"; do
    name=${entry%%|*}
    read -r -a options <<<"${entry#*|}"
    started=""
    # A port found free can be taken by someone else before the server binds
    # it: try a few.
    for _ in 1 2 3 4 5; do
      port=$(free_port)
      "$sink" "${user[@]}" "${options[@]}" -d "$dir/dump/mail." "127.0.0.1:$port" 64 \
        >"$dir/$name.log" 2>&1 </dev/null &
      pid=$!
      for _ in $(seq 50); do
        if listening "$port"; then started=yes; break; fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      if [ -n "$started" ]; then
        echo "$pid" >>"$dir/pids"
        echo "$name $port" >>"$dir/ports.new"
        break
      fi
      kill "$pid" 2>/dev/null || true
    done
    if [ -z "$started" ]; then
      echo "SmtpSink.sh: cannot start $sink for $name" >&2
      cat "$dir/$name.log" >&2 || true
      stop_all
      exit 1
    fi
  done
  mv "$dir/ports.new" "$dir/ports"
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
