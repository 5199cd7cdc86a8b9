# Guest script: the kernel plumbing under the agent and the virtual mice.
velt-uhid-smoke
