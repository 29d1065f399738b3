#!/bin/bash
# Analyse a large set of checkpoint files as a Slurm job array.  Task K of N
# takes the K-th of N consecutive slices of a list of files (one path a
# line) and writes results/part-K.jsonl; concatenated in task order, the
# parts give the results in the order of the list.
#
#   ls /data/runs/*.fchk > files.txt       # absolute paths, or relative to here
#   mkdir -p results logs                  # Slurm does not make logs/ itself
#   jid=$(sbatch --parsable --array=0-99 slurm-array.sh files.txt)
#   sbatch --dependency=afterany:$jid --wrap 'cat results/part-*.jsonl > all.jsonl'
#
# MIRVANTE stays a program of one node: the scheduler spreads the files.  The
# program is `mirvante` on the PATH of the compute nodes, or the one named by
# the environment variable MIRVANTE.
#SBATCH --job-name=mirvante
#SBATCH --cpus-per-task=1
#SBATCH --mem=4G
#SBATCH --time=02:00:00
#SBATCH --output=logs/%x-%A_%a.out
set -uo pipefail
list=${1:?usage: sbatch --array=0-N slurm-array.sh FILE-LIST}
tasks=${SLURM_ARRAY_TASK_COUNT:?not a task of a job array}
task=$((SLURM_ARRAY_TASK_ID - ${SLURM_ARRAY_TASK_MIN:-0}))
total=$(wc -l <"$list")
per=$(((total + tasks - 1) / tasks))
mapfile -t slice < <(tail -n "+$((task * per + 1))" "$list" | head -n "$per")
out=results/part-$(printf '%05d' "$task").jsonl
: >"$out"
[ ${#slice[@]} -gt 0 ] || exit 0
# One thread, as the task asks for one CPU.  Every file gets its line in the
# part, analysed or not; the status is 1 when some file was refused or failed.
"${MIRVANTE:-mirvante}" --json -j 1 "${slice[@]}" >"$out"
